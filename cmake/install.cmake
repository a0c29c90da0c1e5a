# What `cmake --install` puts where, and the Debian package built from it
# (scripts/package).  The desktop program's own files (the program and its
# layout file) are installed by src/gui/CMakeLists.txt, when it is built.
include(GNUInstallDirs)

install(TARGETS quillan-batch RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The picture module of quillan-batch --plots, in the library folder where
# the program looks for it (src/batch/CMakeLists.txt), and the picture
# program that opens it for quillan-batch linked whole, beside it.
if(TARGET quillan_pictures)
  install(TARGETS quillan_pictures LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}/quillan)
endif()
if(TARGET quillan-batch-pictures)
  install(TARGETS quillan-batch-pictures RUNTIME DESTINATION ${CMAKE_INSTALL_LIBDIR}/quillan)
endif()
# The library entry, beside the picture module; the Python module finds it
# there by its RUNPATH (python/CMakeLists.txt).
install(TARGETS quillan_api LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}/quillan)
# Its header, for the bindings built against an installed quillan (the R
# package's configure looks for it in include/quillan).
install(FILES src/api/quillan_api.hpp DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/quillan)
# The MPI program installs where it was built (a cluster's own build); the
# Debian package is made without it.
if(TARGET quillan-batch-mpi)
  install(TARGETS quillan-batch-mpi RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  # bash-completion finds a command's completion by the command's name.
  install(FILES share/completion/quillan-batch DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
          RENAME quillan-batch-mpi)
endif()
install(FILES share/completion/quillan-batch DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
install(FILES LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
# The pages and pictures the README links to, in the same places relative to it.
file(GLOB QUILLAN_DOC_FILES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/docs/*.md ${PROJECT_SOURCE_DIR}/docs/*.png)
install(FILES ${QUILLAN_DOC_FILES} DESTINATION ${CMAKE_INSTALL_DOCDIR}/docs)
install(FILES data/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR}/data)

# The bundled example data, with the README that names their sources: the
# tables of numbers, and the TPS files and factor tables the import, the
# docs' examples and the bindings' first analyses read.
file(GLOB QUILLAN_EXAMPLE_FILES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/data/*.txt ${PROJECT_SOURCE_DIR}/data/*.tps
     ${PROJECT_SOURCE_DIR}/data/*.csv)
install(FILES ${QUILLAN_EXAMPLE_FILES} ${PROJECT_SOURCE_DIR}/data/README.md
        DESTINATION ${CMAKE_INSTALL_DATADIR}/quillan/examples)
# The sets with a tree, each in a folder with its README (also beside the
# installed pages, whose links reach it); the R scripts that made them stay
# in the sources.
foreach(set plethspecies phylo1000)
  install(FILES data/${set}/README.md data/${set}/${set}.tps data/${set}/${set}.tre
          DESTINATION ${CMAKE_INSTALL_DATADIR}/quillan/examples/${set})
  install(FILES data/${set}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR}/data/${set})
endforeach()

# Man pages, made from each program's --help and --version by help2man, so
# they never disagree with the programs.
find_program(HELP2MAN_EXECUTABLE help2man)
set(QUILLAN_MAN_TARGETS "")
function(quillan_man_page target description)
  set(page ${CMAKE_BINARY_DIR}/man/${target}.1)
  add_custom_command(OUTPUT ${page}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
    COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen
            ${HELP2MAN_EXECUTABLE} --no-info --no-discard-stderr --section=1
            --name=${description} --output=${page} $<TARGET_FILE:${target}>
    DEPENDS ${target}
    COMMENT "Man page of ${target}"
    VERBATIM)
  add_custom_target(${target}_man ALL DEPENDS ${page})
  install(FILES ${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endfunction()
if(HELP2MAN_EXECUTABLE)
  quillan_man_page(quillan-batch "landmark shape statistics without a window")
  if(TARGET quillan-batch-mpi)
    quillan_man_page(quillan-batch-mpi "landmark shape statistics, the permutations shared among MPI processes")
  endif()
  if(TARGET quillan)
    quillan_man_page(quillan "landmark shape statistics: the desktop program")
  endif()
else()
  message(NOTICE "quillan: help2man not found: the man pages are not made (install help2man)")
endif()

# The Debian package.  Its dependencies are worked out by dpkg-shlibdeps from
# the libraries the programs really link, not kept by hand.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quillan)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The quillan developers")
set(CPACK_PACKAGE_CONTACT "The quillan developers <quillan-dev@users.noreply.example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Permutation tests of shape differences in 2-D landmark data")
set(CPACK_PACKAGE_DESCRIPTION
  "quillan superimposes two-dimensional landmark configurations (skulls, wings, shells)\n"
  "by full Procrustes fitting, partitions the sum of squared full Procrustes distances\n"
  "from the consensus among groups or a covariate, and judges every result by\n"
  "permutation tests.  It comes as a desktop program (quillan) and a batch front end\n"
  "for scripts (quillan-batch), with real published example data.")
string(REPLACE ";" "" CPACK_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The reports use a fixed-width font; DejaVu Sans Mono is the one the window
# prefers.  Qt's platform plugin for X11 comes with libqt6gui6.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-dejavu-core")
# The Python module (import quillan) needs NumPy; pandas is optional.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "python3, python3-numpy")
set(CPACK_STRIP_FILES ON)
include(CPack)
