# Tests of the app area: placement, the panel, the controller and the program.
bopling_add_test(NAME tst_placement SOURCES tst_Placement.cpp LIBS bopling_placement)
bopling_add_test(NAME tst_placement_actions SOURCES tst_PlacementActions.cpp LIBS bopling_placement)
