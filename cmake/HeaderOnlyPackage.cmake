# kvq_find_header_only(PACKAGE TARGET HEADER_DIR HEADER)
#
# Makes TARGET (e.g. CLI11::CLI11) known to the whole build for a header-only
# library. The package's own CMake configuration is used when it can be found.
# Otherwise (an install without one, or a cross build whose find root hides the
# build machine's packages) the library's header folder is looked for on the
# build machine and offered through a link in the build tree: the folder that
# holds it (/usr/include) must not be put on a cross compiler's include path,
# where the build machine's C library headers would shadow the target's.
function(kvq_find_header_only package target header_dir header)
  if(TARGET ${target})
    return()
  endif()
  find_package(${package} CONFIG QUIET GLOBAL)
  if(TARGET ${target})
    return()
  endif()
  find_path(KVQ_${package}_INCLUDE_DIR ${header_dir}/${header} NO_CMAKE_FIND_ROOT_PATH
            PATHS /usr/include /usr/local/include)
  if(NOT KVQ_${package}_INCLUDE_DIR)
    message(FATAL_ERROR "${package} not found: install its Debian package (scripts/deps.sh)")
  endif()
  set(linked ${CMAKE_BINARY_DIR}/header-only/${package})
  file(MAKE_DIRECTORY ${linked})
  file(CREATE_LINK ${KVQ_${package}_INCLUDE_DIR}/${header_dir} ${linked}/${header_dir} SYMBOLIC)
  add_library(${target} INTERFACE IMPORTED GLOBAL)
  target_include_directories(${target} SYSTEM INTERFACE ${linked})
  message(STATUS "${package}: headers from ${KVQ_${package}_INCLUDE_DIR}/${header_dir}")
endfunction()
