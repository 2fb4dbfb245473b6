# SPDX-License-Identifier: GPL-3.0-or-later
# quorandel_add_test(<name> [NETWORK] [LINK <layer>])
# Builds tests/<name>.cpp against the layer it tests (LINK; the top layer when
# not given), which brings every layer below it, and registers it with CTest.
# Every test runs headless. A NETWORK test sends broadcasts or reaches the
# display address; it skips itself unless ./test.sh has put it inside a private
# network namespace.
function(quorandel_add_test name)
  cmake_parse_arguments(ARG "NETWORK" "LINK" "" ${ARGN})
  if(NOT ARG_LINK)
    set(ARG_LINK quorandel_app)
  endif()
  add_executable(${name} ${name}.cpp ${ARG_UNPARSED_ARGUMENTS})
  target_link_libraries(${name} PRIVATE ${ARG_LINK} Qt6::Test Qt6::Network)
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen"
    TIMEOUT 300)
  if(ARG_NETWORK)
    # They share the namespace's broadcast ports, so they take turns.
    set_tests_properties(${name} PROPERTIES LABELS network RESOURCE_LOCK private-network)
  endif()
endfunction()
