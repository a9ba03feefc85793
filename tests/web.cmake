# Tests of the web area.
