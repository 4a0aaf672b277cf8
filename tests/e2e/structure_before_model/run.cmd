PROC TITLE A structure with no model;
PROC ESTIMATE;
 STRUCTURE PHI(.) P(T) C(P);
PROC STOP;
