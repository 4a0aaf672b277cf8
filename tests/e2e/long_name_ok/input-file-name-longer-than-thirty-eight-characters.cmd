PROC TITLE Read from a file whose name is longer than 38 characters;
PROC STOP;
