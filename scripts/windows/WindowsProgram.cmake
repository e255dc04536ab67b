# What the two shipped Windows programs (roderuv.exe and the gpg.exe
# launcher) have in common: version information with the publisher, the
# copyright and a build number, and no symbols (they halve the size; a Debug
# build keeps them).
#
# RODERUV_PUBLISHER (cache): CompanyName, the copyright holder and the
# installer's Publisher. RODERUV_BUILD_NUMBER: the fourth part of the file
# version; when not given, the number of commits at configure time (0
# outside a Git checkout). The copyright year is that of the last commit.
set(RODERUV_WINDOWS_SOURCES ${CMAKE_CURRENT_LIST_DIR})
set(RODERUV_PUBLISHER "Projekt TANO" CACHE STRING
    "Publisher of the Windows programs and package (CompanyName, LegalCopyright)")
if(NOT DEFINED RODERUV_BUILD_NUMBER)
  execute_process(COMMAND git rev-list --count HEAD
                  WORKING_DIRECTORY ${CMAKE_SOURCE_DIR} RESULT_VARIABLE status
                  OUTPUT_VARIABLE RODERUV_BUILD_NUMBER OUTPUT_STRIP_TRAILING_WHITESPACE
                  ERROR_QUIET)
  if(NOT status EQUAL 0)
    set(RODERUV_BUILD_NUMBER 0)
  endif()
endif()
# A part of a Windows file version is 16 bits.
if(NOT RODERUV_BUILD_NUMBER MATCHES "^[0-9]+$" OR RODERUV_BUILD_NUMBER GREATER 65535)
  message(FATAL_ERROR "RODERUV_BUILD_NUMBER must be a number from 0 to 65535")
endif()
execute_process(COMMAND git log -1 --format=%cd --date=format:%Y
                WORKING_DIRECTORY ${CMAKE_SOURCE_DIR} RESULT_VARIABLE status
                OUTPUT_VARIABLE RODERUV_COPYRIGHT_YEAR OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
if(NOT status EQUAL 0 OR NOT RODERUV_COPYRIGHT_YEAR MATCHES "^[0-9]+$")
  string(TIMESTAMP RODERUV_COPYRIGHT_YEAR "%Y")
endif()

# roderuv_windows_program(TARGET FILE DESCRIPTION): FILE is the program's
# file name, DESCRIPTION the FileDescription Explorer and Task Manager show.
enable_language(RC)
function(roderuv_windows_program target file description)
  set(RODERUV_VI_FILE ${file})
  set(RODERUV_VI_DESCRIPTION ${description})
  get_filename_component(RODERUV_VI_NAME ${file} NAME_WE)
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}-version.rc)
  configure_file(${RODERUV_WINDOWS_SOURCES}/VersionInfo.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
  target_link_options(${target} PRIVATE $<$<NOT:$<CONFIG:Debug>>:-s>)
endfunction()
