# The table access layer, the engine settings and the local tables.
file(GLOB QZ_DATA_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
add_library(qz_data STATIC ${QZ_DATA_SOURCES})
target_include_directories(qz_data PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(qz_data PUBLIC qz_rtl)
if(TARGET qz_xbase)
  target_link_libraries(qz_data PUBLIC qz_xbase)
endif()
