# Installs, for each printer model, the tool, the selector and the print
# filter into <DRIVER_ROOT>/<model>/lpd/ under the names that select the
# model. The programs and the filter are installed once, for lx230; the
# other models' names are relative symbolic links to them (each picks its
# model from the name it was run by, so a link serves its own model). The
# same holds for the man pages under <prefix>/share/man/man1. The Debian
# package (debian/) is made from this install; debhelper compresses the man
# pages and adds the package's documentation.
include(GNUInstallDirs)

set(KS_MODELS lx210 lx220 lx230 lx240pc)
set(KS_MAIN_MODEL lx230)
set(KS_PACKAGE kestrel-label-tools)
set(KS_LINK_DIR ${CMAKE_BINARY_DIR}/install-links)

install(TARGETS kstapefmtlpr_lx230 kspagefit_lx230
        RUNTIME DESTINATION ${DRIVER_ROOT}${KS_MAIN_MODEL}/lpd)
install(PROGRAMS ${CMAKE_SOURCE_DIR}/examples/lx230-filter
        DESTINATION ${DRIVER_ROOT}${KS_MAIN_MODEL}/lpd)
install(FILES ${CMAKE_SOURCE_DIR}/man/kstapefmtlpr_${KS_MAIN_MODEL}.1
              ${CMAKE_SOURCE_DIR}/man/kspagefit_${KS_MAIN_MODEL}.1
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

foreach(model IN LISTS KS_MODELS)
  if(model STREQUAL KS_MAIN_MODEL)
    continue()
  endif()
  file(MAKE_DIRECTORY ${KS_LINK_DIR}/${model} ${KS_LINK_DIR}/man)
  set(links)
  foreach(name kstapefmtlpr_ kspagefit_)
    file(CREATE_LINK ../../${KS_MAIN_MODEL}/lpd/${name}${KS_MAIN_MODEL}
         ${KS_LINK_DIR}/${model}/${name}${model} SYMBOLIC)
    list(APPEND links ${KS_LINK_DIR}/${model}/${name}${model})
    file(CREATE_LINK ${name}${KS_MAIN_MODEL}.1 ${KS_LINK_DIR}/man/${name}${model}.1 SYMBOLIC)
    install(FILES ${KS_LINK_DIR}/man/${name}${model}.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  endforeach()
  file(CREATE_LINK ../../${KS_MAIN_MODEL}/lpd/${KS_MAIN_MODEL}-filter
       ${KS_LINK_DIR}/${model}/${model}-filter SYMBOLIC)
  install(FILES ${links} ${KS_LINK_DIR}/${model}/${model}-filter
          DESTINATION ${DRIVER_ROOT}${model}/lpd)
endforeach()

# The printcap entry that wires the filter into a queue.
install(FILES ${CMAKE_SOURCE_DIR}/examples/printcap
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${KS_PACKAGE}/examples)
