// tool/VellinMain.cpp - the entry point of the vellin command-line tool.
//
// The debug-symbol operations are already bound when main starts (tool/LBD.cpp); everything
// else is RunVellin in tool/vellin.cpp, kept in the vellin_core library so tests, benchmarks and
// fuzz targets run the same code.
#include "tool/vellin.h"

int main(int argc, char** argv) {
    return vellin::RunVellin(argc, argv);
}
