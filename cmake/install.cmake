# Installs, for each printer model, the tool, the selector and the print
# filter into <DRIVER_ROOT>/<model>/lpd/ under the names that select the
# model. The three programs are installed once, for lx230; the
# other models' names are relative symbolic links to them (each picks its
# model from the name it was run by, so a link serves its own model). The
# same holds for the man pages, in section 8 (administration commands)
# under <prefix>/share/man/man8, made from man/*.8.in with the project's
# version. Each model's label-format tool is also on the PATH, as
# <prefix>/sbin/kstapefmtlpr_<model>, a link to it. The Debian package
# (debian/) is made from this install; debhelper compresses the man pages
# and adds the package's documentation.
include(GNUInstallDirs)

set(KS_MODELS lx210 lx220 lx230 lx240pc)
set(KS_MAIN_MODEL lx230)
set(KS_PACKAGE kestrel-label-tools)
set(KS_LINK_DIR ${CMAKE_BINARY_DIR}/install-links)

install(TARGETS kstapefmtlpr_lx230 kspagefit_lx230 lx230-filter
        RUNTIME DESTINATION ${DRIVER_ROOT}${KS_MAIN_MODEL}/lpd)
set(KS_PAGES kstapefmtlpr_${KS_MAIN_MODEL} kspagefit_${KS_MAIN_MODEL} ${KS_MAIN_MODEL}-filter)
foreach(page IN LISTS KS_PAGES)
  configure_file(${CMAKE_SOURCE_DIR}/man/${page}.8.in ${CMAKE_BINARY_DIR}/man/${page}.8 @ONLY)
  install(FILES ${CMAKE_BINARY_DIR}/man/${page}.8 DESTINATION ${CMAKE_INSTALL_MANDIR}/man8)
endforeach()
# What every user runs of the tool (the listing, the medium query), in
# section 1.
configure_file(${CMAKE_SOURCE_DIR}/man/kstapefmtlpr_${KS_MAIN_MODEL}.1.in
               ${CMAKE_BINARY_DIR}/man/kstapefmtlpr_${KS_MAIN_MODEL}.1 @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/man/kstapefmtlpr_${KS_MAIN_MODEL}.1
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
    file(CREATE_LINK ${name}${KS_MAIN_MODEL}.8 ${KS_LINK_DIR}/man/${name}${model}.8 SYMBOLIC)
    install(FILES ${KS_LINK_DIR}/man/${name}${model}.8 DESTINATION ${CMAKE_INSTALL_MANDIR}/man8)
  endforeach()
  file(MAKE_DIRECTORY ${KS_LINK_DIR}/man1)
  file(CREATE_LINK kstapefmtlpr_${KS_MAIN_MODEL}.1 ${KS_LINK_DIR}/man1/kstapefmtlpr_${model}.1 SYMBOLIC)
  install(FILES ${KS_LINK_DIR}/man1/kstapefmtlpr_${model}.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  file(CREATE_LINK ../../${KS_MAIN_MODEL}/lpd/${KS_MAIN_MODEL}-filter
       ${KS_LINK_DIR}/${model}/${model}-filter SYMBOLIC)
  file(CREATE_LINK ${KS_MAIN_MODEL}-filter.8 ${KS_LINK_DIR}/man/${model}-filter.8 SYMBOLIC)
  install(FILES ${KS_LINK_DIR}/man/${model}-filter.8 DESTINATION ${CMAKE_INSTALL_MANDIR}/man8)
  install(FILES ${links} ${KS_LINK_DIR}/${model}/${model}-filter
          DESTINATION ${DRIVER_ROOT}${model}/lpd)
endforeach()

# The printcap entry that wires the filter into a queue.
install(FILES ${CMAKE_SOURCE_DIR}/examples/printcap
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${KS_PACKAGE}/examples)

# The label-format tool of each model on the PATH, under its own name: a
# link to its place under the driver's root (the model still comes from
# the name), in sbin for the administrator's adds and deletes and in bin
# for every user's listing and medium query.
foreach(dir sbin bin)
  file(MAKE_DIRECTORY ${KS_LINK_DIR}/${dir})
  foreach(model IN LISTS KS_MODELS)
    file(CREATE_LINK ${DRIVER_ROOT}${model}/lpd/kstapefmtlpr_${model}
         ${KS_LINK_DIR}/${dir}/kstapefmtlpr_${model} SYMBOLIC)
  endforeach()
endforeach()
foreach(model IN LISTS KS_MODELS)
  install(FILES ${KS_LINK_DIR}/sbin/kstapefmtlpr_${model} DESTINATION ${CMAKE_INSTALL_SBINDIR})
  install(FILES ${KS_LINK_DIR}/bin/kstapefmtlpr_${model} DESTINATION ${CMAKE_INSTALL_BINDIR})
endforeach()

# CUPS (the kestrel-label-tools-cups package): the filter, in CUPS's filter
# directory (<prefix>/lib/cups/filter on every architecture, as cupsd looks
# for it), and one PPD per model in <prefix>/share/ppd/kestrel/, each naming
# its model for the filter.
install(TARGETS kestrel-lx RUNTIME DESTINATION lib/cups/filter)
set(KS_PRODUCT_lx210 LX-210)
set(KS_PRODUCT_lx220 LX-220)
set(KS_PRODUCT_lx230 LX-230)
set(KS_PRODUCT_lx240pc LX-240PC)
foreach(model IN LISTS KS_MODELS)
  set(KS_MODEL ${model})
  set(KS_PRODUCT ${KS_PRODUCT_${model}})
  string(TOUPPER ${model} KS_PCFILE)
  string(SUBSTRING "KS${KS_PCFILE}" 0 8 KS_PCFILE)
  set(KS_PCFILE "${KS_PCFILE}.PPD")
  configure_file(${CMAKE_SOURCE_DIR}/ppd/lx.ppd.in ${CMAKE_BINARY_DIR}/ppd/${model}.ppd @ONLY)
  install(FILES ${CMAKE_BINARY_DIR}/ppd/${model}.ppd
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/ppd/kestrel)
endforeach()
configure_file(${CMAKE_SOURCE_DIR}/man/kestrel-lx.8.in ${CMAKE_BINARY_DIR}/man/kestrel-lx.8 @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/man/kestrel-lx.8 DESTINATION ${CMAKE_INSTALL_MANDIR}/man8)
