# Installs, for each printer model, the tool, the selector and the print
# filter into <DRIVER_ROOT>/<model>/lpd/ under the names that select the
# model. The
# programs are installed once, for lx230; the other models' names are
# relative symbolic links to them (the tool picks its model from the name it
# was run by, so a link serves its own model). The same holds for the man
# pages under <prefix>/share/man/man1, installed compressed.
include(GNUInstallDirs)

set(KS_MODELS lx210 lx220 lx230 lx240pc)
set(KS_MAIN_MODEL lx230)
set(KS_PACKAGE kestrel-label-tools)
set(KS_STAGE_DIR ${CMAKE_BINARY_DIR}/install-stage)

install(TARGETS kstapefmtlpr_lx230 kspagefit_lx230
        RUNTIME DESTINATION ${DRIVER_ROOT}${KS_MAIN_MODEL}/lpd)
# The LPRng print filter, which picks its model from its name as the tool
# does: lx230-filter, and a link for each other model.
install(PROGRAMS ${CMAKE_SOURCE_DIR}/examples/lx230-filter
        DESTINATION ${DRIVER_ROOT}${KS_MAIN_MODEL}/lpd)

find_program(GZIP gzip REQUIRED)
set(man_pages)
foreach(program kstapefmtlpr kspagefit)
  set(page ${KS_STAGE_DIR}/man/${program}_${KS_MAIN_MODEL}.1.gz)
  add_custom_command(
    OUTPUT ${page}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${KS_STAGE_DIR}/man
    COMMAND ${GZIP} -9n -c ${CMAKE_SOURCE_DIR}/man/${program}_${KS_MAIN_MODEL}.1 > ${page}
    DEPENDS ${CMAKE_SOURCE_DIR}/man/${program}_${KS_MAIN_MODEL}.1)
  list(APPEND man_pages ${page})
endforeach()
set(changelog ${KS_STAGE_DIR}/doc/changelog.gz)
add_custom_command(
  OUTPUT ${changelog}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${KS_STAGE_DIR}/doc
  COMMAND ${GZIP} -9n -c ${CMAKE_SOURCE_DIR}/packaging/changelog > ${changelog}
  DEPENDS ${CMAKE_SOURCE_DIR}/packaging/changelog)
add_custom_target(install_files ALL DEPENDS ${man_pages} ${changelog})
install(FILES ${man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

foreach(model IN LISTS KS_MODELS)
  if(model STREQUAL KS_MAIN_MODEL)
    continue()
  endif()
  foreach(program kstapefmtlpr kspagefit)
    set(link ${KS_STAGE_DIR}/links/${model}/${program}_${model})
    file(MAKE_DIRECTORY ${KS_STAGE_DIR}/links/${model})
    file(CREATE_LINK ../../${KS_MAIN_MODEL}/lpd/${program}_${KS_MAIN_MODEL} ${link} SYMBOLIC)
    install(FILES ${link} DESTINATION ${DRIVER_ROOT}${model}/lpd)

    set(man_link ${KS_STAGE_DIR}/links/man/${program}_${model}.1.gz)
    file(MAKE_DIRECTORY ${KS_STAGE_DIR}/links/man)
    file(CREATE_LINK ${program}_${KS_MAIN_MODEL}.1.gz ${man_link} SYMBOLIC)
    install(FILES ${man_link} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  endforeach()
  set(link ${KS_STAGE_DIR}/links/${model}/${model}-filter)
  file(CREATE_LINK ../../${KS_MAIN_MODEL}/lpd/${KS_MAIN_MODEL}-filter ${link} SYMBOLIC)
  install(FILES ${link} DESTINATION ${DRIVER_ROOT}${model}/lpd)
endforeach()

# The printcap entry that wires the filter into a queue.
install(FILES ${CMAKE_SOURCE_DIR}/examples/printcap
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${KS_PACKAGE}/examples)

# What a Debian package carries besides: the licence, the changelog, and the
# lintian overrides with their reasons.
install(FILES ${CMAKE_SOURCE_DIR}/packaging/copyright ${changelog}
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${KS_PACKAGE})
install(FILES ${CMAKE_SOURCE_DIR}/packaging/lintian-overrides
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides
        RENAME ${KS_PACKAGE})
