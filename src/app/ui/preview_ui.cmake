# The presets window, the placeholder menus and preview, the live preview and the image preview
# popup: windows beside the main window, in a library of their own so that the main window's
# library links them.
add_library(quill_app_preview_ui STATIC)
set_target_properties(quill_app_preview_ui PROPERTIES AUTOMOC ON)
target_link_libraries(quill_app_preview_ui PUBLIC quill_batch_ui quill_toolkit_qt quill_pipeline
  quill_settings Qt6::Widgets PRIVATE Qt6::Svg)
target_include_directories(quill_app_preview_ui PUBLIC ${PROJECT_SOURCE_DIR}/src)
target_sources(quill_app_preview_ui PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/live_preview.cpp
  ${CMAKE_CURRENT_LIST_DIR}/pattern_preview_window.cpp
  ${CMAKE_CURRENT_LIST_DIR}/placeholder_menu.cpp
  ${CMAKE_CURRENT_LIST_DIR}/presets_window.cpp
  ${CMAKE_CURRENT_LIST_DIR}/preview_popup.cpp
)
# The program's icon, the one the desktop entry names, for the busy picture.
qt_add_resources(quill_app_preview_ui quill_icon PREFIX /quillmere BASE ${PROJECT_SOURCE_DIR}/data
  FILES ${PROJECT_SOURCE_DIR}/data/quillmere.svg)
