# Installs, for each printer model, the tool and the selector into
# <DRIVER_ROOT>/<model>/lpd/ under the names that select the model. The
# programs are installed once, for lx230; the other models' names are
# relative symbolic links to them (the tool picks its model from the name it
# was run by, so a link serves its own model). The same holds for the man
# pages under <prefix>/share/man/man1.
include(GNUInstallDirs)

set(KS_MODELS lx210 lx220 lx230 lx240pc)
set(KS_MAIN_MODEL lx230)
set(KS_LINK_DIR ${CMAKE_BINARY_DIR}/install-links)

install(TARGETS kstapefmtlpr_lx230 kspagefit_lx230
        RUNTIME DESTINATION ${DRIVER_ROOT}${KS_MAIN_MODEL}/lpd)
install(FILES man/kstapefmtlpr_lx230.1 man/kspagefit_lx230.1
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

foreach(model IN LISTS KS_MODELS)
  if(model STREQUAL KS_MAIN_MODEL)
    continue()
  endif()
  foreach(program kstapefmtlpr kspagefit)
    set(link ${KS_LINK_DIR}/${model}/${program}_${model})
    file(MAKE_DIRECTORY ${KS_LINK_DIR}/${model})
    file(CREATE_LINK ../../${KS_MAIN_MODEL}/lpd/${program}_${KS_MAIN_MODEL} ${link} SYMBOLIC)
    install(FILES ${link} DESTINATION ${DRIVER_ROOT}${model}/lpd)

    set(man_link ${KS_LINK_DIR}/man/${program}_${model}.1)
    file(MAKE_DIRECTORY ${KS_LINK_DIR}/man)
    file(CREATE_LINK ${program}_${KS_MAIN_MODEL}.1 ${man_link} SYMBOLIC)
    install(FILES ${man_link} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  endforeach()
endforeach()
