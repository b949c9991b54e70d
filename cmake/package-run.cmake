# Included by cpack at packaging time. dpkg-shlibdeps names the package that
# holds the C library the programs link: for an i386 package built on a
# 64-bit machine that must be the i386 libc6, not the biarch libc6-i386.
if(CPACK_DEBIAN_PACKAGE_ARCHITECTURE STREQUAL "i386")
  if(NOT EXISTS /lib/i386-linux-gnu/libc.so.6)
    message(FATAL_ERROR "The i386 package needs the i386 C library: "
            "dpkg --add-architecture i386 && apt-get update && apt-get install libc6:i386")
  endif()
  set(ENV{DEB_HOST_ARCH} i386)
endif()
