# cmake/JexInstall.cmake - cmake --install and the Debian package: headers, libraries, tools,
# the CMake package (find_package(JexLogger)) and the pkg-config file.
#
# An installed program includes the suite's headers as in the tree ("exceptions/LogError.h")
# from <prefix>/include/jexlogger and links JexLogger::JexLogC6.
include(CMakePackageConfigHelpers)

set(JEX_INSTALL_INCLUDEDIR ${CMAKE_INSTALL_INCLUDEDIR}/jexlogger)
set(JEX_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/JexLogger)
set(JEX_INSTALL_DATADIR ${CMAKE_INSTALL_DATADIR}/jexlogger)

foreach(folder host platform logging exceptions mapfile monitors checks package)
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/${folder}/ DESTINATION ${JEX_INSTALL_INCLUDEDIR}/${folder}
    FILES_MATCHING PATTERN "*.h"
    # The fakes of the operating-system services are for the suite's own tests.
    PATTERN "fake" EXCLUDE)
endforeach()

foreach(library hostrt JexLogC6)
  target_include_directories(${library} INTERFACE $<INSTALL_INTERFACE:${JEX_INSTALL_INCLUDEDIR}>)
endforeach()
install(TARGETS hostrt JexLogC6 EXPORT JexLoggerTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(TARGETS vellin maplookup elfmap eventlog EXPORT JexLoggerTargets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(EXPORT JexLoggerTargets NAMESPACE JexLogger:: DESTINATION ${JEX_INSTALL_CMAKEDIR})

# jex_add_map and jex_enable_fault_exceptions come with the package; the fault hook's source is
# compiled into the program that asks for it.
install(FILES ${PROJECT_SOURCE_DIR}/cmake/JexMap.cmake ${PROJECT_SOURCE_DIR}/cmake/JexFaults.cmake
  DESTINATION ${JEX_INSTALL_CMAKEDIR})
install(FILES ${JEX_FAULT_HANDLING_SOURCE} DESTINATION ${JEX_INSTALL_DATADIR})

configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/JexLoggerConfig.cmake.in
  ${PROJECT_BINARY_DIR}/JexLoggerConfig.cmake
  INSTALL_DESTINATION ${JEX_INSTALL_CMAKEDIR}
  PATH_VARS JEX_INSTALL_DATADIR)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/JexLoggerConfigVersion.cmake
  COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/JexLoggerConfig.cmake
  ${PROJECT_BINARY_DIR}/JexLoggerConfigVersion.cmake DESTINATION ${JEX_INSTALL_CMAKEDIR})

# The file finds the prefix from its own place, so it serves any --prefix and the package.
file(RELATIVE_PATH JEX_PC_TO_PREFIX /${CMAKE_INSTALL_LIBDIR}/pkgconfig /)
string(REGEX REPLACE "/$" "" JEX_PC_TO_PREFIX "${JEX_PC_TO_PREFIX}")
configure_file(${PROJECT_SOURCE_DIR}/cmake/jexlogger.pc.in ${PROJECT_BINARY_DIR}/jexlogger.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/jexlogger.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# cpack -G DEB: one package with everything above, installed under /usr.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME jexlogger)
set(CPACK_PACKAGE_VENDOR "Velmora")
set(CPACK_PACKAGE_CONTACT "JexLogger maintainers <jexlogger@velmora.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "JexLogger: log component suite")
set(CPACK_PACKAGE_VERSION 1.5.0.0)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION libdevel)
# The run-time libraries the suite and its tools link (see scripts/install-deps.sh).
set(CPACK_DEBIAN_PACKAGE_DEPENDS
  "libc6, libstdc++6, libgcc-s1, libx11-6, libjpeg62-turbo, libgmime-3.0-0, libsqlite3-0, libdw1, libelf1")
include(CPack)
