# Runs Doxygen, then holds its warnings to none but the listed undocumented
# names (docs/doxygen_warnings.py).
#   cmake -DDOXYGEN=... -DDOXYFILE=... -DLOG=... -DPYTHON=... -DCHECK=... -P run_doxygen.cmake
execute_process(COMMAND ${DOXYGEN} ${DOXYFILE} RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "Doxygen failed (${status})")
endif()
# Debian's jQuery in place of the copy Doxygen writes (libbplink-doc depends
# on libjs-jquery).
get_filename_component(html ${LOG} DIRECTORY)
file(REMOVE ${html}/html/jquery.js)
# Relative, as Debian wants: from /usr/share/doc/libbplink-doc/html/.
file(CREATE_LINK ../../../javascript/jquery/jquery.js ${html}/html/jquery.js SYMBOLIC)
execute_process(COMMAND ${PYTHON} ${CHECK} check ${LOG} RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "The API reference has warnings (above): every public name needs its comment")
endif()
