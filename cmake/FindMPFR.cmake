# Finds MPFR with the GMP it rests on, for the tests that hold the sine and
# cosine to correctly rounded values. Defines MPFR_FOUND and the imported
# target MPFR::MPFR.
find_path(MPFR_INCLUDE_DIR mpfr.h)
find_library(MPFR_LIBRARY mpfr)
find_library(GMP_LIBRARY gmp)
include(FindPackageHandleStandardArgs)
find_package_handle_standard_args(MPFR REQUIRED_VARS MPFR_LIBRARY GMP_LIBRARY MPFR_INCLUDE_DIR)
if(MPFR_FOUND AND NOT TARGET MPFR::MPFR)
  add_library(MPFR::MPFR INTERFACE IMPORTED)
  target_include_directories(MPFR::MPFR INTERFACE ${MPFR_INCLUDE_DIR})
  target_link_libraries(MPFR::MPFR INTERFACE ${MPFR_LIBRARY} ${GMP_LIBRARY})
endif()
mark_as_advanced(MPFR_INCLUDE_DIR MPFR_LIBRARY GMP_LIBRARY)
