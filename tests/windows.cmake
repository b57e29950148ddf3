# The tests of the Windows build (cross-built with MinGW-w64, run under Wine by
# scripts/test-windows): the platform-free ones - records, frames, the settings file, the
# journal, profiles, the trend, the codec, the time texts, the translations, the transactions
# and the fault matrix in virtual time. The tests that drive a pty or the Linux programs stay in
# CMakeLists.txt. Each program is one test; its GoogleTest cases are listed by running it.

# GoogleTest for the target, built from Debian's source (package googletest).
set(NX480_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest's source, built for the target")
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(${NX480_GTEST_SOURCE} ${CMAKE_CURRENT_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

function(nx480_windows_gtest name)
  add_executable(${name} ${ARGN})
  target_link_libraries(${name} PRIVATE GTest::gtest_main)
  target_include_directories(${name} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
  add_test(NAME ${name} COMMAND ${name})
endfunction()

nx480_windows_gtest(link_tests frames_test.cpp reply_check_test.cpp identity_test.cpp
                    firmware_features_test.cpp virtual_line_test.cpp transaction_test.cpp)
target_link_libraries(link_tests PRIVATE nx480link nx480virtualline)

nx480_windows_gtest(live_tests live_transaction_test.cpp live_view_test.cpp)
target_link_libraries(live_tests PRIVATE nx480link nx480virtualline nx480liveview)

nx480_windows_gtest(history_tests history_transaction_test.cpp history_view_test.cpp)
target_link_libraries(history_tests PRIVATE nx480link nx480virtualline nx480historyview)

nx480_windows_gtest(setup_tests settings_table_test.cpp settings_record_test.cpp
                    settings_file_test.cpp settings_transaction_test.cpp connection_test.cpp
                    date_time_text_test.cpp language_test.cpp relay_time_test.cpp
                    calibration_record_test.cpp clock_transaction_test.cpp
                    calibration_transaction_test.cpp)
target_link_libraries(setup_tests PRIVATE nx480settingsrecord nx480connection nx480timetext
                                          nx480language nx480link nx480historyview
                                          nx480virtualline)

nx480_windows_gtest(grid_profile_tests grid_profile_test.cpp)
target_link_libraries(grid_profile_tests PRIVATE nx480gridprofile)

nx480_windows_gtest(trend_tests trend_test.cpp)
target_link_libraries(trend_tests PRIVATE nx480trend)

nx480_windows_gtest(journal_tests journal_test.cpp journal_changes_test.cpp journal_view_test.cpp
                    places_test.cpp)
target_link_libraries(journal_tests PRIVATE nx480journal nx480journalview nx480recording
                                            nx480connection)

nx480_windows_gtest(recording_tests recording_test.cpp)
target_link_libraries(recording_tests PRIVATE nx480recording)

nx480_windows_gtest(firmware_tests image_file_test.cpp upload_transaction_test.cpp)
target_link_libraries(firmware_tests PRIVATE nx480fwupload nx480virtualline)

nx480_windows_gtest(fault_matrix_tests fault_matrix_test.cpp)
target_link_libraries(fault_matrix_tests PRIVATE nx480fwupload nx480virtualline)

# The simulator's model, framer and images (its pty service and program are Linux's).
nx480_windows_gtest(sim_tests sim/robustness_test.cpp sim/crc_test.cpp sim/faults_test.cpp
                    sim/history_test.cpp sim/framer_test.cpp sim/upload_test.cpp
                    sim/clock_test.cpp sim/model_test.cpp)
target_link_libraries(sim_tests PRIVATE nx480sim)

# The journal's texts in English and Czech, the record's journal table (Qt Test; the record's
# own language test reads its PDF with Linux's pdftotext).
add_executable(journal_language_tests journal_language_test.cpp)
set_target_properties(journal_language_tests PROPERTIES AUTOMOC ON)
target_link_libraries(journal_language_tests PRIVATE nx480commissioning nx480journal nx480language
                                             Qt6::Test)
add_test(NAME journal_language_tests COMMAND journal_language_tests)
