cmake_minimum_required(VERSION 3.25)
# Fails unless LIBRARY's interface compile features (FEATURES) ask for C++20.
if(NOT "cxx_std_20" IN_LIST FEATURES)
  message(FATAL_ERROR "${LIBRARY} does not hand on cxx_std_20 (interface features: ${FEATURES})")
endif()
