# The presets window, placeholder menus and preview, live preview and preview popup, driven
# through their real widgets on the offscreen platform.
add_executable(quill_app_preview_ui_tests
  ${PROJECT_SOURCE_DIR}/tests/test_support.cpp
  ${PROJECT_SOURCE_DIR}/tests/qt_test_main.cpp
  ${CMAKE_CURRENT_LIST_DIR}/live_preview_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/placeholder_menu_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/presets_window_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/preview_popup_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/preview_run_test.cpp
)
target_link_libraries(quill_app_preview_ui_tests PRIVATE quill_app_preview_ui Qt6::Svg Qt6::Test
  GTest::gtest GTest::gmock)
target_include_directories(quill_app_preview_ui_tests PRIVATE ${PROJECT_SOURCE_DIR}/tests)
target_compile_definitions(quill_app_preview_ui_tests PRIVATE
  QUILL_TESTDATA_DIR="${QUILL_TESTDATA_DIR}"
  QUILL_FIXTURES_DIR="${QUILL_FIXTURES_DIR}"
  QUILL_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
  QUILL_BINARY_DIR="${PROJECT_BINARY_DIR}")
gtest_discover_tests(quill_app_preview_ui_tests DISCOVERY_TIMEOUT 60
  PROPERTIES TIMEOUT 300 ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
