PROC TITLE kept as it is;
PROC STOP;
