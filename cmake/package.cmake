# make package: a Debian package of the install above.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${KS_PACKAGE})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Kestrel driver team <drivers@kestrel.example>")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Kestrel driver team <drivers@kestrel.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Custom label formats and page fitting for LX label printers")
# The extended description (CPack indents its lines); the summary above is
# its synopsis.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "kstapefmtlpr_<model> adds and deletes user-defined label formats of the
LX-210, LX-220, LX-230 and LX-240PC printers for an LPRng queue and keeps
the driver's data files consistent. kspagefit_<model> tells the driver's
print filter how to fit a job onto the label.")
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
# The programs link the C++ runtime statically; dpkg-shlibdeps finds the
# C library version they need.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# What the example print filter runs.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "lprng, psutils, ghostscript")
# The architecture of the build (i386 for a -m32 build).
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE i386)
else()
  execute_process(COMMAND dpkg --print-architecture
                  OUTPUT_VARIABLE CPACK_DEBIAN_PACKAGE_ARCHITECTURE
                  OUTPUT_STRIP_TRAILING_WHITESPACE)
endif()
# Read by cpack when it runs: the i386 package's dependency must be found in
# the i386 C library, not in the 64-bit machine's biarch copy.
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_SOURCE_DIR}/cmake/package-run.cmake)
include(CPack)
