# Suites that run both on the build machine and under Wine.
set(SHARED_TEST_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/fixed_text_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/text_search_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/signin_page_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/windows_version_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/package_plan_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/paths_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/installer_launch_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/package_digest_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/check_report_test.cpp
)
