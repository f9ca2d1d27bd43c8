# The Windows deliverables, made with CPack in the mingw build tree:
#   cpack -G ZIP   stripewell-<version>-win64.zip, unpacked and started where it lies
#   cpack -G NSIS  stripewell-<version>-win64.exe, an installer with a Start-menu entry
# Both hold the program, the Qt libraries and the one platform plugin it loads,
# the mingw runtime and Qt's Russian texts; qt.conf points Qt at them.

set(STRIPEWELL_QT_TRANSLATIONS /usr/share/qt6/translations CACHE PATH
    "Where qtbase_ru.qm is (Debian's qt6-translations-l10n; the files are the same on every platform)")

get_target_property(_qtcore_dll Qt6::Core IMPORTED_LOCATION_RELEASE)
get_filename_component(_qt_bin "${_qtcore_dll}" DIRECTORY)
get_filename_component(_qt_prefix "${_qt_bin}" DIRECTORY)

# The runtime of the compiler the program was built with.
set(_runtime)
foreach(_dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${_dll}
                    OUTPUT_VARIABLE _path OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT IS_ABSOLUTE "${_path}" OR NOT EXISTS "${_path}")
        message(FATAL_ERROR "The mingw runtime ${_dll} was not found")
    endif()
    list(APPEND _runtime "${_path}")
endforeach()

# A windowed program: no console window beside it (Qt's entry point gives it WinMain).
set_target_properties(stripewell PROPERTIES WIN32_EXECUTABLE ON)
install(TARGETS stripewell RUNTIME DESTINATION .)
install(FILES ${_runtime}
              ${_qt_bin}/Qt6Core.dll ${_qt_bin}/Qt6Gui.dll ${_qt_bin}/Qt6Widgets.dll
              ${PROJECT_SOURCE_DIR}/packaging/windows/qt.conf
        DESTINATION .)
install(FILES ${_qt_prefix}/plugins/platforms/qwindows.dll DESTINATION plugins/platforms)
install(FILES ${STRIPEWELL_QT_TRANSLATIONS}/qtbase_ru.qm DESTINATION translations)

set(CPACK_GENERATOR ZIP NSIS)
set(CPACK_PACKAGE_NAME stripewell)
set(CPACK_PACKAGE_VENDOR Stripewell)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Read and encode magnetic-stripe cards with an R418V terminal")
set(CPACK_PACKAGE_FILE_NAME "stripewell-${PROJECT_VERSION}-win64")
set(CPACK_PACKAGE_INSTALL_DIRECTORY Stripewell)
set(CPACK_STRIP_FILES ON)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
set(CPACK_NSIS_PACKAGE_NAME Stripewell)
set(CPACK_NSIS_DISPLAY_NAME Stripewell)
set(CPACK_NSIS_INSTALLED_ICON_NAME stripewell.exe)
set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
set(CPACK_NSIS_EXECUTABLES_DIRECTORY .)
# A 64-bit installer for a 64-bit program (Debian's nsis has the amd64 stubs and
# plugins): it runs where the program runs, without 32-bit support, and installs
# into the 64-bit Program Files.
set(CPACK_NSIS_DEFINES "Target amd64-unicode")
set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
# The program keeps config.rwc, the job and the journal in its working folder,
# which must be writable: the installed folder under Program Files is not. The
# Start-menu entry starts it in Documents\Stripewell (the Public Documents when
# installed for all users, so every operator of the desk shares one journal).
# The shortcut's working folder is the output path current when it is made.
set(CPACK_NSIS_CREATE_ICONS_EXTRA [=[
  CreateDirectory "$DOCUMENTS\Stripewell"
  SetOutPath "$DOCUMENTS\Stripewell"
  CreateShortCut "$SMPROGRAMS\$STARTMENU_FOLDER\Stripewell.lnk" "$INSTDIR\stripewell.exe"
  SetOutPath "$INSTDIR"
]=])
set(CPACK_NSIS_DELETE_ICONS_EXTRA [=[
  Delete "$SMPROGRAMS\$MUI_TEMP\Stripewell.lnk"
]=])
set(CPACK_VERBATIM_VARIABLES ON)
include(CPack)
