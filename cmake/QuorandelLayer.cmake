# SPDX-License-Identifier: GPL-3.0-or-later
# quorandel_layer(<folder> [PUBLIC <target>...] [PRIVATE <target>...])
# Makes the static library quorandel_<folder> for the sources of one folder,
# which lists them with target_sources() after this call. PUBLIC names the
# layers (and outside libraries) its headers include, PRIVATE those only its
# sources include: a layer links exactly what it includes, and passes on to
# whoever builds on it only what its headers show.
#
# The source root is on no include path. Each layer has an include folder of
# its own in the build tree, holding one symbolic link to its source folder
# (build/layers/<folder>/<folder>), and that is the layer's public include
# folder. So "#include "<folder>/X.h"" finds X.h only in a layer's own folder
# or in a layer it builds on: an include that points up a layer does not
# compile, rather than merely failing to link.
function(quorandel_layer folder)
  cmake_parse_arguments(ARG "" "" "PUBLIC;PRIVATE" ${ARGN})
  set(target quorandel_${folder})
  set(include_folder ${PROJECT_BINARY_DIR}/layers/${folder})
  file(MAKE_DIRECTORY ${include_folder})
  file(CREATE_LINK ${CMAKE_CURRENT_SOURCE_DIR} ${include_folder}/${folder} SYMBOLIC)
  add_library(${target} STATIC)
  target_include_directories(${target} PUBLIC ${include_folder})
  target_link_libraries(${target} PUBLIC ${ARG_PUBLIC} PRIVATE ${ARG_PRIVATE})
  target_compile_options(${target} PRIVATE -Wall -Wextra)
endfunction()
