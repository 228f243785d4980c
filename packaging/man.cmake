cmake_policy(VERSION 3.25)
# Writes a manual page from a template and the program's own --help text, so the page lists
# exactly the switches the program accepts. Called at build time:
#   cmake -DPROGRAM=<exe> -DTEMPLATE=<page.in> -DOUTPUT=<page.gz> -DVERSION=<v> -P man.cmake
set(ENV{LC_ALL} C.UTF-8)
set(ENV{LANG} C.UTF-8)
execute_process(COMMAND ${PROGRAM} --help
                OUTPUT_VARIABLE help RESULT_VARIABLE rc TIMEOUT 20)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${PROGRAM} --help ended with ${rc}")
endif()
# roff: a backslash is written \e, and a line starting with "." or "'" would be a request.
string(REPLACE "\\" "\\e" help "${help}")
string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" help "${help}")
file(READ ${TEMPLATE} page)
string(REPLACE "@VERSION@" "${VERSION}" page "${page}")
string(REPLACE "@HELP@" "${help}" page "${page}")
get_filename_component(plain ${OUTPUT} NAME_WLE)
get_filename_component(dir ${OUTPUT} DIRECTORY)
file(WRITE ${dir}/${plain} "${page}")
execute_process(COMMAND gzip -9nf ${dir}/${plain} RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "gzip failed for ${dir}/${plain}")
endif()
