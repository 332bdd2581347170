# The presets window, placeholder menus and preview, live preview and preview popup, driven
# through their real widgets on the offscreen platform.
quill_add_test_target(quill_app_preview_ui_tests WINDOW offscreen quill_app_preview_ui Qt6::Svg)
target_sources(quill_app_preview_ui_tests PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/live_preview_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/placeholder_menu_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/presets_window_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/preview_popup_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/preview_run_test.cpp
)
