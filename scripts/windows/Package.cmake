# The Windows package a clinic installs, made from the built roderuv.exe and
# gpg.exe (target package_win, part of the Windows build):
#   package/roderuv-<version>-win64.zip        the three files to unpack
#   package/roderuv-<version>-win64-setup.exe  the NSIS installer of the same
# The third file is CTIMNE.txt, the Czech notes, for Notepad: UTF-8 with the
# byte-order mark its source starts with, CR LF line ends.
find_program(RODERUV_MAKENSIS makensis REQUIRED)

set(RODERUV_PACKAGE_DIR ${CMAKE_BINARY_DIR}/package)
set(RODERUV_PACKAGE_ZIP ${RODERUV_PACKAGE_DIR}/roderuv-${PROJECT_VERSION}-win64.zip)
set(RODERUV_PACKAGE_SETUP ${RODERUV_PACKAGE_DIR}/roderuv-${PROJECT_VERSION}-win64-setup.exe)
set(stage ${RODERUV_PACKAGE_DIR}/stage)

configure_file(${CMAKE_CURRENT_LIST_DIR}/CTIMNE.txt.in ${stage}/CTIMNE.txt @ONLY
               NEWLINE_STYLE CRLF)

add_custom_command(
  OUTPUT ${RODERUV_PACKAGE_ZIP} ${RODERUV_PACKAGE_SETUP}
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:roderuv> ${stage}/roderuv.exe
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:gpg_launcher> ${stage}/gpg.exe
  COMMAND ${CMAKE_COMMAND} -E rm -f ${RODERUV_PACKAGE_ZIP}
  COMMAND ${CMAKE_COMMAND} -E tar cf ${RODERUV_PACKAGE_ZIP} --format=zip
          roderuv.exe gpg.exe CTIMNE.txt
  COMMAND ${RODERUV_MAKENSIS} -WX -V2 -INPUTCHARSET UTF8 -DVERSION=${PROJECT_VERSION}
          -DBUILD=${RODERUV_BUILD_NUMBER} -DPUBLISHER=${RODERUV_PUBLISHER}
          -DYEAR=${RODERUV_COPYRIGHT_YEAR} -DICON=${CMAKE_CURRENT_LIST_DIR}/roderuv.ico
          -DSTAGE=${stage} -DOUTFILE=${RODERUV_PACKAGE_SETUP}
          ${CMAKE_CURRENT_LIST_DIR}/roderuv.nsi
  WORKING_DIRECTORY ${stage}
  DEPENDS roderuv gpg_launcher ${stage}/CTIMNE.txt ${CMAKE_CURRENT_LIST_DIR}/roderuv.nsi
          ${CMAKE_CURRENT_LIST_DIR}/roderuv.ico
  COMMENT "Windows package: zip and installer"
  VERBATIM)
add_custom_target(package_win ALL DEPENDS ${RODERUV_PACKAGE_ZIP} ${RODERUV_PACKAGE_SETUP})
