# cmake/JexMap.cmake - jex_add_map(target): writes the target's map file after every link.
#
# The map lies beside the executable under its name with the extension ".map", where the
# exception logger looks for it, so reports name unit, procedure and line. The target must be
# built with debug information (-g); the map itself holds no debug information.

# jex_add_map(target [DEBUG_FILE file]): runs elfmap on the linked target (POST_BUILD).
# The tool: the tree's elfmap target, or the installed one (JexLoggerConfig sets JEX_ELFMAP_TOOL).
if(NOT DEFINED JEX_ELFMAP_TOOL)
  set(JEX_ELFMAP_TOOL elfmap)
endif()

function(jex_add_map target)
  cmake_parse_arguments(ARG "" "DEBUG_FILE" "" ${ARGN})
  set(debug_args)
  if(ARG_DEBUG_FILE)
    set(debug_args --debug-file ${ARG_DEBUG_FILE})
  endif()
  get_target_property(imported ${JEX_ELFMAP_TOOL} IMPORTED)
  if(NOT imported)
    add_dependencies(${target} ${JEX_ELFMAP_TOOL})
  endif()
  # A new elfmap relinks the target, so that its map is written anew.
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS $<TARGET_FILE:${JEX_ELFMAP_TOOL}>)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND $<TARGET_FILE:${JEX_ELFMAP_TOOL}> $<TARGET_FILE:${target}> ${debug_args}
    COMMENT "Writing the map file of ${target}"
    VERBATIM)
endfunction()
