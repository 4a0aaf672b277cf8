/* A cohort size of eleven digits does not fit its field. */
PROC MODEL NPAR=1;
 COHORT = 20000000000;
  5 : S(1);
PROC STOP;
