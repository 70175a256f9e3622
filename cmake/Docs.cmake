# The API reference of the installed headers (scripts/docs runs it). Every header the install
# rules list is linked under build/docs/include/ by its installed name, so that the pages name it
# as a user includes it (valtrex/serial/ComPort.h), and the Doxyfile reads those links and nothing
# else: a header that is installed is documented, and nothing that is not shows up.
get_property(installed GLOBAL PROPERTY VALTREX_INSTALLED_HEADERS)
set(VALTREX_DOCS_INCLUDE ${PROJECT_BINARY_DIR}/docs/include)
file(REMOVE_RECURSE ${VALTREX_DOCS_INCLUDE})
set(VALTREX_DOCS_INPUT "")
while(installed)
  list(POP_FRONT installed path name)
  get_filename_component(dir ${VALTREX_DOCS_INCLUDE}/${name} DIRECTORY)
  file(MAKE_DIRECTORY ${dir})
  file(CREATE_LINK ${path} ${VALTREX_DOCS_INCLUDE}/${name} SYMBOLIC)
  string(APPEND VALTREX_DOCS_INPUT " \\\n    \"${VALTREX_DOCS_INCLUDE}/${name}\"")
endwhile()
configure_file(${PROJECT_SOURCE_DIR}/docs/Doxyfile.in ${PROJECT_BINARY_DIR}/docs/Doxyfile @ONLY)

find_program(VALTREX_DOXYGEN doxygen)
if(VALTREX_DOXYGEN)
  add_custom_target(docs
    COMMAND ${VALTREX_DOXYGEN} ${PROJECT_BINARY_DIR}/docs/Doxyfile
    WORKING_DIRECTORY ${PROJECT_BINARY_DIR}
    COMMENT "API reference in ${PROJECT_BINARY_DIR}/html"
    VERBATIM)
endif()
