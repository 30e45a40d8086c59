# Desktop tests of the insertion adapters, against fixture editors the tests start themselves.
find_package(Qt6 6.4 REQUIRED COMPONENTS Widgets)
add_executable(quenda_fixture_editor ${CMAKE_CURRENT_LIST_DIR}/fixtures/FixtureEditor.cpp)
target_link_libraries(quenda_fixture_editor PRIVATE Qt6::Widgets)

quenda_add_desktop_test(tst_insertion_desktop ${CMAKE_CURRENT_LIST_DIR}/tst_insertion_desktop.cpp)
add_dependencies(tst_insertion_desktop quenda_fixture_editor quenda)
target_compile_definitions(tst_insertion_desktop PRIVATE
  QUENDA_FIXTURE_EDITOR="$<TARGET_FILE:quenda_fixture_editor>"
  QUENDA_GTK_FIXTURE="${CMAKE_CURRENT_LIST_DIR}/fixtures/gtk_editor.py"
  QUENDA_BINARY="$<TARGET_FILE:quenda>")

# Exact typing through XTest into Qt, GTK and xterm, on a US and a German layout.
quenda_add_desktop_test(tst_typing_desktop ${CMAKE_CURRENT_LIST_DIR}/tst_typing_desktop.cpp)
add_dependencies(tst_typing_desktop quenda_fixture_editor)
target_compile_definitions(tst_typing_desktop PRIVATE
  QUENDA_FIXTURE_EDITOR="$<TARGET_FILE:quenda_fixture_editor>"
  QUENDA_GTK_FIXTURE="${CMAKE_CURRENT_LIST_DIR}/fixtures/gtk_editor.py")

# Applications nobody on this project wrote (LibreOffice Writer, mousepad, xterm, Firefox ESR, Chromium),
# each started once, the browsers also typed into on a Russian layout; the browsers make this the slowest desktop test.
quenda_add_desktop_test(tst_applications_desktop ${CMAKE_CURRENT_LIST_DIR}/tst_applications_desktop.cpp)
add_dependencies(tst_applications_desktop quenda_fixture_editor quenda)
target_link_libraries(tst_applications_desktop PRIVATE quenda_fakeserver)
set_tests_properties(tst_applications_desktop PROPERTIES TIMEOUT 600)
target_compile_definitions(tst_applications_desktop PRIVATE
  QUENDA_FIXTURE_EDITOR="$<TARGET_FILE:quenda_fixture_editor>"
  QUENDA_GTK_FIXTURE="${CMAKE_CURRENT_LIST_DIR}/fixtures/gtk_editor.py"
  QUENDA_BINARY="$<TARGET_FILE:quenda>")
