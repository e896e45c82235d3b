# Install rules: the program, lsods (a relative symbolic link to it, which starts
# in list mode) and the manual pages, all in the component "odscp".
include(GNUInstallDirs)

install(TARGETS odscp RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT odscp)

# The link is made in the build tree and installed as a link: file(INSTALL)
# copies a symbolic link as a link, so "lsods -> odscp" arrives unchanged.
set(ODSCP_LSODS_LINK ${CMAKE_CURRENT_BINARY_DIR}/install-links/lsods)
file(MAKE_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/install-links)
file(CREATE_LINK odscp ${ODSCP_LSODS_LINK} SYMBOLIC)
install(FILES ${ODSCP_LSODS_LINK} DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT odscp)

# man/lsods.1 is a symbolic link to odscp.1, so that it reads the same in the
# source tree and installed (where it arrives as a link too).
install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/man/odscp.1 ${CMAKE_CURRENT_SOURCE_DIR}/man/lsods.1
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT odscp)

# mkvolume, to make volumes to practise on, with its own page.
install(TARGETS mkvolume RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT odscp)
install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/man/mkvolume.1
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT odscp)

# odstar, to list and extract whole volumes, with its own page.
install(TARGETS odstar RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT odscp)
install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/man/odstar.1
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT odscp)
# odsfs, when it is built (libfuse 3 found), and its manual page.
if(TARGET odsfs)
  install(TARGETS odsfs RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT odscp)
  install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/man/odsfs.1
          DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT odscp)
endif()
