# Tools of the creatures area.
