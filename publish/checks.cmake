# The checks of a page's addresses, dates and sample text before it is
# previewed or published; free of any window and of Qt, so the command line
# uses them too, and the server for the maker in the browser (which builds
# them alone where it is built without the program).
set(checks_dir ${PROJECT_SOURCE_DIR}/publish)
add_library(heartpage_checks ${checks_dir}/field_checks.cpp ${checks_dir}/field_checks.h
  ${checks_dir}/sample_text.cpp)
target_include_directories(heartpage_checks PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(heartpage_checks PUBLIC heartpage_pages heartpage_protocol
  PRIVATE heartpage_net)
