# System DLLs that a program loads when it first calls them rather than
# before it starts. Under Wine the common controls alone take tens of
# milliseconds to load; loaded at the first call, they load on the window's
# thread while the library is read beside it, and the update's network and
# signature DLLs only load when an update is looked for.
#
# For each name, a delay-import library holding every function of the
# toolchain's own import library is made in the build tree; the target's
# -l<name> finds it before the system's.
function(vantle_delay_load target)
  set(dir ${CMAKE_BINARY_DIR}/delay-load)
  file(MAKE_DIRECTORY ${dir})
  foreach(name IN LISTS ARGN)
    find_library(import_${name} NAMES lib${name}.a ${name} REQUIRED NO_CACHE)
    set(delay ${dir}/lib${name}.a)
    if(NOT EXISTS ${delay} OR ${import_${name}} IS_NEWER_THAN ${delay})
      execute_process(COMMAND ${CMAKE_DLLTOOL} --identify ${import_${name}}
        OUTPUT_VARIABLE dll OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
      execute_process(COMMAND ${CMAKE_NM} -g ${import_${name}}
        OUTPUT_VARIABLE symbols ERROR_QUIET COMMAND_ERROR_IS_FATAL ANY)
      string(REGEX MATCHALL "[ \t]I __imp_[A-Za-z0-9_@?$]+" imports "${symbols}")
      list(TRANSFORM imports REPLACE "^[ \t]I __imp_" "")
      list(REMOVE_DUPLICATES imports)
      list(JOIN imports "\n" exports)
      file(WRITE ${dir}/${name}.def "LIBRARY ${dll}\nEXPORTS\n${exports}\n")
      execute_process(COMMAND ${CMAKE_DLLTOOL} --input-def ${dir}/${name}.def --dllname ${dll}
        --output-delaylib ${delay} COMMAND_ERROR_IS_FATAL ANY)
    endif()
  endforeach()
  target_link_directories(${target} BEFORE PRIVATE ${dir})
  # The helper the delayed calls go through, pulled in at once so that the
  # place of its library among the others does not matter.
  target_link_options(${target} PRIVATE -Wl,--undefined=__delayLoadHelper2)
  target_link_libraries(${target} PRIVATE delayimp)
endfunction()
