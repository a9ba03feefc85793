# Tests of the settings area.
