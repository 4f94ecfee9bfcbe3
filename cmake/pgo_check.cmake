# Checks that the profile of the profile-guided build fits the objects named in OBJECTS: GCC
# looks up an object's profile under the object's path from PREFIX (the compiler's
# -fprofile-prefix-path), its slashes turned into '#' and ".o" into ".gcda". Each must be
# there and not empty.
if(NOT OBJECTS)
  message(FATAL_ERROR "no objects to check")
endif()
foreach(object IN LISTS OBJECTS)
  file(RELATIVE_PATH rel "${PREFIX}" "${object}")
  string(REPLACE "/" "#" name "${rel}")
  string(REGEX REPLACE "\\.o$" ".gcda" name "${name}")
  set(file "${PROFILE}/${name}")
  if(NOT EXISTS "${file}")
    message(FATAL_ERROR "the profile in ${PROFILE} has no ${name} for ${object}: the build was not guided by it")
  endif()
  file(SIZE "${file}" size)
  if(size EQUAL 0)
    message(FATAL_ERROR "${file} is empty")
  endif()
endforeach()
