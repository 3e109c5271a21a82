# Runs the same syntheses with the native and the portable build and requires
# every output file to be identical, byte for byte (summary.json aside: it
# holds the elapsed time).  Both SRS algorithms, both unit systems with
# conversions, several trials per worker.
set(spec "100 20\n1000 1000\n5000 1000\n")
# One command line per entry, its arguments separated by blanks.
set(option_sets
    "-a smallwood --spacing 1/6 -q 10 -n 14 -u english -s 3 -r 40000 -p 6000 -j 2 spec.txt"
    "-a kelly-richman --spacing 1/3 --damping 0.05 -n 9 -u metric -s 1 -r 30000 -d 0.1 -j 2 spec.txt")
set(index 0)
foreach(options IN LISTS option_sets)
  separate_arguments(arguments UNIX_COMMAND "${options}")
  foreach(build NATIVE PORTABLE)
    set(dir ${WORK}/${index}/${build})
    file(REMOVE_RECURSE ${dir})
    file(MAKE_DIRECTORY ${dir})
    file(WRITE ${dir}/spec.txt "${spec}")
    execute_process(COMMAND ${${build}} ${arguments}
                    OUTPUT_FILE ${dir}/../${build}.console WORKING_DIRECTORY ${dir} RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
      message(FATAL_ERROR "${build} run ${index} ended with status ${status}")
    endif()
  endforeach()
  file(GLOB files RELATIVE ${WORK}/${index}/NATIVE ${WORK}/${index}/NATIVE/*)
  list(REMOVE_ITEM files summary.json)
  list(LENGTH files count)
  if(count LESS 10)
    message(FATAL_ERROR "run ${index} wrote only ${count} files")
  endif()
  foreach(f IN LISTS files)
    execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${WORK}/${index}/NATIVE/${f} ${WORK}/${index}/PORTABLE/${f}
                    RESULT_VARIABLE different)
    if(different)
      message(FATAL_ERROR "run ${index}: ${f} differs between the native and the portable build")
    endif()
  endforeach()
  math(EXPR index "${index} + 1")
endforeach()
