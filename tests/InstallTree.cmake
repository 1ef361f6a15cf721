# Installs the build into a fresh prefix and checks the freedesktop layout:
# the desktop entry passes desktop-file-validate, the icons are in the hicolor
# theme, and the installed executable starts with the resources installed
# beside it, while a lone copy of it says where it looked and fails.
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND ${CMAKE_COMMAND} --install "${BUILD_DIR}" --prefix "${PREFIX}"
                RESULT_VARIABLE installed OUTPUT_QUIET)
if(NOT installed EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${installed}")
endif()

set(entry "${PREFIX}/share/applications/org.vantrell.Vantrell.desktop")
foreach(file IN ITEMS "${PREFIX}/bin/vantrell" "${entry}"
        "${PREFIX}/share/icons/hicolor/scalable/apps/org.vantrell.Vantrell.svg"
        "${PREFIX}/share/icons/hicolor/48x48/apps/org.vantrell.Vantrell.png"
        "${PREFIX}/share/icons/hicolor/512x512/apps/org.vantrell.Vantrell.png"
        "${PREFIX}/share/vantrell/Localizable.plist" "${PREFIX}/share/vantrell/Add.svg"
        "${PREFIX}/share/vantrell/Vantrell User Manual.pdf")
  if(NOT EXISTS "${file}")
    message(FATAL_ERROR "not installed: ${file}")
  endif()
endforeach()

execute_process(COMMAND "${VALIDATE}" "${entry}" RESULT_VARIABLE valid OUTPUT_VARIABLE said ERROR_VARIABLE said)
if(NOT valid EQUAL 0 OR NOT said STREQUAL "")
  message(FATAL_ERROR "desktop-file-validate: ${said}")
endif()

set(run_env QT_QPA_PLATFORM=offscreen VANTRELL_EXIT_AFTER_SHOW=1
    "XDG_CONFIG_HOME=${PREFIX}/home/config" "XDG_DATA_HOME=${PREFIX}/home/data")
if(SANITIZE)
  list(APPEND run_env ASAN_OPTIONS=detect_leaks=0)
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E env --unset=VANTRELL_RESOURCES ${run_env} "${PREFIX}/bin/vantrell"
                RESULT_VARIABLE started OUTPUT_VARIABLE said ERROR_VARIABLE errors TIMEOUT 120)
if(NOT started EQUAL 0 OR NOT said MATCHES "main window shown: Vantrell")
  message(FATAL_ERROR "the installed executable did not start (${started}): ${said} ${errors}")
endif()

# Without resources the executable names the folders it looked in.
file(MAKE_DIRECTORY "${PREFIX}/lone/bin")
file(COPY "${PREFIX}/bin/vantrell" DESTINATION "${PREFIX}/lone/bin")
execute_process(COMMAND ${CMAKE_COMMAND} -E env --unset=VANTRELL_RESOURCES ${run_env} "${PREFIX}/lone/bin/vantrell"
                RESULT_VARIABLE started OUTPUT_VARIABLE said ERROR_VARIABLE errors TIMEOUT 120)
if(started EQUAL 0 OR NOT errors MATCHES "${PREFIX}/lone/share/vantrell")
  message(FATAL_ERROR "a lone executable should fail and name its folder (${started}): ${errors}")
endif()
file(REMOVE_RECURSE "${PREFIX}")
