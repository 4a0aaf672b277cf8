PROC TITLE A results file among the tables;
PROC STOP;
