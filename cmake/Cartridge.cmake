# Assembles a 6502 program into an iNES image with ca65/ld65.
#   vexalo_add_cartridge(<target> SOURCE <file.s> CONFIG <file.cfg> OUTPUT <file.nes>
#                        [INCLUDES <dir>...] [DEPENDS <file>...])
find_program(CA65 ca65 REQUIRED)
find_program(LD65 ld65 REQUIRED)

function(vexalo_add_cartridge target)
  cmake_parse_arguments(ARG "" "SOURCE;CONFIG;OUTPUT" "INCLUDES;DEPENDS" ${ARGN})
  get_filename_component(obj ${ARG_OUTPUT} NAME_WE)
  set(obj ${CMAKE_CURRENT_BINARY_DIR}/${obj}.o)
  set(includes)
  foreach(dir ${ARG_INCLUDES})
    list(APPEND includes -I ${dir})
  endforeach()
  add_custom_command(
    OUTPUT ${ARG_OUTPUT}
    COMMAND ${CA65} -g ${includes} -o ${obj} ${ARG_SOURCE}
    COMMAND ${LD65} -C ${ARG_CONFIG} -o ${ARG_OUTPUT} ${obj}
    DEPENDS ${ARG_SOURCE} ${ARG_CONFIG} ${ARG_DEPENDS}
    COMMENT "Assembling ${ARG_OUTPUT}"
    VERBATIM)
  add_custom_target(${target} ALL DEPENDS ${ARG_OUTPUT})
endfunction()
