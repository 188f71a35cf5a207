// tests/elfmap/logger/PaymentUnit.cpp - a unit of the logger test program that declines
// payments.
#include "PaymentUnit.h"

#include "host/core/SysUtils.h"

#include <string>

namespace shop {

namespace {
// Kept beside the throw so that moving one moves the other.
constexpr int ThrowLine = __LINE__ + 4;
} // namespace

void TTill::Decline(int ACents) {
    throw host::EConvertError("Payment of " + std::to_string(ACents) + " declined");
}

int DeclineLine() {
    return ThrowLine;
}

} // namespace shop
