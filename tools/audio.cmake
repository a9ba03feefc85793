# Tools of the audio area.
