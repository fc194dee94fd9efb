# The documents against the tree: the guide renders from the program's own
# figures, and the scripts, presets and version the documents name exist.
if(NOT CMAKE_CROSSCOMPILING)
  find_package(Python3 REQUIRED COMPONENTS Interpreter)
  add_test(NAME docs_check
    COMMAND Python3::Interpreter ${CMAKE_CURRENT_SOURCE_DIR}/docs_check.py ${PROJECT_VERSION} ${CMAKE_BINARY_DIR})
  set_tests_properties(docs_check PROPERTIES LABELS unit)
endif()
