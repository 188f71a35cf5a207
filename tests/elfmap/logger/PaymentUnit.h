// tests/elfmap/logger/PaymentUnit.h - a unit of the logger test program that declines payments.
// Its throw, made from a member function, is one of the three known source positions.
#pragma once

namespace shop {

/// A till that declines every payment.
class TTill {
public:
    /// Always raises host::EConvertError from its own body.
    [[gnu::noinline]] void Decline(int ACents);
};

/// The source line of TTill::Decline's throw.
int DeclineLine();

} // namespace shop
