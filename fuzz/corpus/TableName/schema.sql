select name
from main.orders
order by name