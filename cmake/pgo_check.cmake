# Checks that the profile of the profile-guided build holds a file for each object named in
# EXPECTED (the names the compiler of this build looks up), none of them empty.
foreach(name IN LISTS EXPECTED)
  set(file "${PROFILE}/${name}")
  if(NOT EXISTS "${file}")
    message(FATAL_ERROR "the profile in ${PROFILE} has no ${name}: the build was not guided by it")
  endif()
  file(SIZE "${file}" size)
  if(size EQUAL 0)
    message(FATAL_ERROR "${file} is empty")
  endif()
endforeach()
