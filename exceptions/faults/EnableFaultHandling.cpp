// exceptions/faults/EnableFaultHandling.cpp - added to a program by jex_enable_fault_exceptions:
// turns fault handling on before main() runs, so every exception logger the program creates
// answers for faults as well.
#include "exceptions/LogErrorFatal.h"

namespace {

const bool faultHandlingOn = [] {
    jex::EnableFaultHandling();
    return true;
}();

} // namespace
