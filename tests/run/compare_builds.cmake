# Runs the same syntheses with the native and the portable build and requires
# every output file to be identical, byte for byte.  Both SRS algorithms, both
# unit systems with conversions, several trials per worker.
set(spec "100 20\n1000 1000\n5000 1000\n")
set(answer_sets
    "2\nspec.txt\n2\n2\n10\n14\n1\n3\n40000\n1\n6000\n"
    "1\nspec.txt\n1\n1\n0.05\n9\n2\n1\n30000\n2\n0.1\n")
set(index 0)
foreach(answers IN LISTS answer_sets)
  foreach(build NATIVE PORTABLE)
    set(dir ${WORK}/${index}/${build})
    file(REMOVE_RECURSE ${dir})
    file(MAKE_DIRECTORY ${dir})
    file(WRITE ${dir}/spec.txt "${spec}")
    file(WRITE ${dir}/../answers.txt "${answers}")
    execute_process(COMMAND ${${build}} --threads 2 INPUT_FILE ${dir}/../answers.txt
                    OUTPUT_FILE ${dir}/../${build}.console WORKING_DIRECTORY ${dir} RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
      message(FATAL_ERROR "${build} run ${index} ended with status ${status}")
    endif()
  endforeach()
  file(GLOB files RELATIVE ${WORK}/${index}/NATIVE ${WORK}/${index}/NATIVE/*)
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
