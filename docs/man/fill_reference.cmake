cmake_minimum_required(VERSION 3.25)
# Puts the command reference that `kdl --manual-reference` prints, and the version, into the manual page's
# Markdown. Called with -DKDL=program -DTEMPLATE=kdl.md -DOUTPUT=file -DVERSION=x.y.z.
execute_process(COMMAND ${KDL} --manual-reference OUTPUT_VARIABLE reference RESULT_VARIABLE status)
if(NOT status EQUAL 0 OR reference STREQUAL "")
  message(FATAL_ERROR "${KDL} --manual-reference failed (${status})")
endif()
file(READ ${TEMPLATE} page)
string(REPLACE "@REFERENCE@" "${reference}" page "${page}")
string(REPLACE "@VERSION@" "${VERSION}" page "${page}")
file(WRITE ${OUTPUT} "${page}")
