# A profile-guided build of the decoder (DROPIX_PGO). An instrumented copy of dropix and
# dropix-sim is built in <build>/pgo/build, tools/pgo-train.sh runs it on simulated rain, and
# every object of this build is then compiled with the profile it wrote: the compiler lays
# out the branches of the decoder and of piece assembly as real recordings take them. The
# program's results do not change (no floating-point option is touched); its speed does
# (docs/performance.md). The profile is made anew whenever the instrumented program changes,
# and the decoder's objects are compiled anew after it.
include(ExternalProject)

set(pgo_dir ${CMAKE_BINARY_DIR}/pgo)
set(pgo_profile ${pgo_dir}/profile)
# Profile files are named after their object files relative to the build directory, so that
# the instrumented build's profile fits this build's objects.
set(pgo_generate "-fprofile-generate=${pgo_profile} -fprofile-prefix-path=${pgo_dir}/build -fprofile-update=atomic")

# The instrumented build compiles the code as this one does (compiler, build type, flags,
# trace printers): a function compiled otherwise does not fit its profile, which the compiler
# refuses.
cmake_host_system_information(RESULT pgo_jobs QUERY NUMBER_OF_LOGICAL_CORES)
string(TOUPPER "${CMAKE_BUILD_TYPE}" pgo_config)
ExternalProject_Add(dropix_pgo_instrumented
  SOURCE_DIR ${PROJECT_SOURCE_DIR}
  BINARY_DIR ${pgo_dir}/build
  CMAKE_ARGS -DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE} -DCMAKE_CXX_COMPILER=${CMAKE_CXX_COMPILER}
             -DDROPIX_TESTS=OFF -DDROPIX_PGO=OFF -DDROPIX_WERROR=${DROPIX_WERROR} -DDROPIX_TRACE=${DROPIX_TRACE}
             "-DCMAKE_CXX_FLAGS=${CMAKE_CXX_FLAGS} ${pgo_generate}"
             "-DCMAKE_CXX_FLAGS_${pgo_config}=${CMAKE_CXX_FLAGS_${pgo_config}}"
  BUILD_COMMAND ${CMAKE_COMMAND} --build <BINARY_DIR> --target dropix dropix-sim --parallel ${pgo_jobs}
  BUILD_ALWAYS ON
  BUILD_BYPRODUCTS ${pgo_dir}/build/dropix ${pgo_dir}/build/dropix-sim
  INSTALL_COMMAND "")

add_custom_command(OUTPUT ${pgo_dir}/trained.stamp
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${pgo_profile}
  COMMAND bash ${PROJECT_SOURCE_DIR}/tools/pgo-train.sh ${pgo_dir}/build ${pgo_dir}/runs
  COMMAND ${CMAKE_COMMAND} -E touch ${pgo_dir}/trained.stamp
  DEPENDS ${pgo_dir}/build/dropix ${pgo_dir}/build/dropix-sim ${PROJECT_SOURCE_DIR}/tools/pgo-train.sh
  COMMENT "Training the profile-guided build on simulated rain"
  VERBATIM)
add_custom_target(dropix_pgo_profile DEPENDS ${pgo_dir}/trained.stamp)
add_dependencies(dropix_pgo_profile dropix_pgo_instrumented)

# Every target of the project waits for the profile; objects the training did not reach
# (tests, products) are compiled as without one.
add_dependencies(dropix_flags dropix_pgo_profile)
set(pgo_use_prefix ${CMAKE_BINARY_DIR})
target_compile_options(dropix_flags INTERFACE -fprofile-use=${pgo_profile} -fprofile-prefix-path=${pgo_use_prefix}
                                              -fprofile-partial-training -Wno-missing-profile)

# The decoder's objects are compiled anew with each new profile.
function(dropix_pgo_recompile)
  foreach(target IN LISTS ARGN)
    get_target_property(sources ${target} SOURCES)
    get_target_property(dir ${target} SOURCE_DIR)
    list(TRANSFORM sources PREPEND ${dir}/)
    set_property(SOURCE ${sources} TARGET_DIRECTORY ${target} APPEND PROPERTY OBJECT_DEPENDS ${pgo_dir}/trained.stamp)
  endforeach()
endfunction()

# The profile must fit this build's objects: for every object of the decoding, assembly and
# session libraries, a profile file under the name this build's compiler looks it up by (the
# object's path from the prefix the compiler is given). Without one the compiler quietly
# builds the object as without a profile.
if(DROPIX_TESTS)
  add_test(NAME pgo_profile_fits
           COMMAND ${CMAKE_COMMAND} -DPROFILE=${pgo_profile} -DPREFIX=${pgo_use_prefix}
                   "-DOBJECTS=$<TARGET_OBJECTS:dropix_input>;$<TARGET_OBJECTS:dropix_reconstruct>;$<TARGET_OBJECTS:dropix_session>"
                   -P ${PROJECT_SOURCE_DIR}/cmake/pgo_check.cmake)
endif()
