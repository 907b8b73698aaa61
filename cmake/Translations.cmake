# The program's texts are written in Chinese; translations/rfcfgtool_*.ts hold the other
# languages. lrelease turns each into a .qm that is compiled into the program under :/i18n/.
#
# After new texts appear in the sources, refresh the catalogues with
#   cmake --build build --target update_translations
# and translate the new entries (Qt Linguist, or by hand in the .ts).
find_package(Qt6 REQUIRED COMPONENTS LinguistTools)

set(RFCFGTOOL_TS_FILES ${PROJECT_SOURCE_DIR}/translations/rfcfgtool_en.ts)
# Everything that holds user-visible texts. tests/translations_check.sh scans the same folders.
set(RFCFGTOOL_TRANSLATED_DIRS app ui widgets protocol serial tools)
set(RFCFGTOOL_LUPDATE_OPTIONS -silent -locations none -no-obsolete -source-language zh_CN)
set(RFCFGTOOL_LUPDATE $<TARGET_FILE:Qt6::lupdate>)

set(_rfcfgtool_translated_globs)
foreach(dir IN LISTS RFCFGTOOL_TRANSLATED_DIRS)
    list(APPEND _rfcfgtool_translated_globs ${PROJECT_SOURCE_DIR}/${dir}/*.cpp
         ${PROJECT_SOURCE_DIR}/${dir}/*.h ${PROJECT_SOURCE_DIR}/${dir}/*.ui)
endforeach()
file(GLOB_RECURSE _rfcfgtool_translated_sources CONFIGURE_DEPENDS ${_rfcfgtool_translated_globs})

# Adds rfcfgtool_core_lupdate to the global update_translations target.
qt_add_lupdate(rfcfgtool_core
               TS_FILES ${RFCFGTOOL_TS_FILES}
               SOURCES ${_rfcfgtool_translated_sources}
               INCLUDE_DIRECTORIES ${PROJECT_SOURCE_DIR}
               OPTIONS ${RFCFGTOOL_LUPDATE_OPTIONS})

# lrelease writes into a folder of its own (created at configure time, whatever the generator),
# which becomes the resource prefix.
set_source_files_properties(${RFCFGTOOL_TS_FILES} PROPERTIES
                            OUTPUT_LOCATION ${CMAKE_CURRENT_BINARY_DIR}/i18n)
qt_add_lrelease(rfcfgtool_core
                TS_FILES ${RFCFGTOOL_TS_FILES}
                OPTIONS -silent
                QM_FILES_OUTPUT_VARIABLE _rfcfgtool_qm_files)
qt_add_resources(rfcfgtool_core rfcfgtool_translations
                 PREFIX /i18n BASE "${CMAKE_CURRENT_BINARY_DIR}/i18n" FILES ${_rfcfgtool_qm_files})
