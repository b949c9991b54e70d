# make package: a Debian package of the install above.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kestrel-label-tools)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Kestrel driver team <drivers@kestrel.example>")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Kestrel driver team <drivers@kestrel.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Custom label formats and page fitting for LX label printers")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Custom label formats and page fitting for LX label printers\n\
 kstapefmtlpr_<model> adds and deletes user-defined label formats of the\n\
 LX-210, LX-220, LX-230 and LX-240PC printers for an LPRng queue and keeps\n\
 the driver's data files consistent. kspagefit_<model> tells the driver's\n\
 print filter how to fit a job onto the label.")
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# The architecture of the build (i386 for a -m32 build).
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE i386)
else()
  execute_process(COMMAND dpkg --print-architecture
                  OUTPUT_VARIABLE CPACK_DEBIAN_PACKAGE_ARCHITECTURE
                  OUTPUT_STRIP_TRAILING_WHITESPACE)
endif()
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libstdc++6")
include(CPack)
