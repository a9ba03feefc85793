# Tests of the settings area.
bopling_add_test(NAME tst_settings SOURCES tst_settings.cpp LIBS bopling_settings LABELS unit)
