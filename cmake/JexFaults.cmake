# cmake/JexFaults.cmake - jex_enable_fault_exceptions(target): hardware faults become exceptions.
#
# The target's code is built with -fnon-call-exceptions, so that a fault in it can be thrown as
# the framework's exception (EAccessViolation, EDivByZero, ...) and caught by the application's
# message loop, and a start-up hook turns fault handling on for the exception loggers the program
# creates: faults that cannot be thrown get a fatal report in the logger's LogFile. The target
# must link JexLogC6.

# In the tree the hook's source is beside the suite's; an installed package names its copy.
if(NOT DEFINED JEX_FAULT_HANDLING_SOURCE)
  set(JEX_FAULT_HANDLING_SOURCE ${CMAKE_CURRENT_LIST_DIR}/../exceptions/faults/EnableFaultHandling.cpp)
endif()

function(jex_enable_fault_exceptions target)
  target_compile_options(${target} PRIVATE -fnon-call-exceptions)
  target_sources(${target} PRIVATE ${JEX_FAULT_HANDLING_SOURCE})
endfunction()
