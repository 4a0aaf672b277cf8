PROC TITLE Parameter words that no form takes;
PROC STOP;
