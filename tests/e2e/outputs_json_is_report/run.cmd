PROC TITLE One file for two outputs;
PROC STOP;
