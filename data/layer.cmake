# The table access layer, one folder per layer over the storage engine:
# values/ (dates, letter case, file names), table/ (the table access layer
# and the engine settings), local/ (the program folder's own tables).
file(GLOB QZ_DATA_SOURCES CONFIGURE_DEPENDS
  ${CMAKE_CURRENT_SOURCE_DIR}/values/*.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/table/*.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/local/*.cpp)
add_library(qz_data STATIC ${QZ_DATA_SOURCES})
target_include_directories(qz_data PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(qz_data PUBLIC qz_rtl)
if(TARGET qz_xbase)
  target_link_libraries(qz_data PUBLIC qz_xbase)
endif()
