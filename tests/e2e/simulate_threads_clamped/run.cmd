PROC TITLE Bias and coverage of a two-period design;
PROC MODEL NPAR=10 ADDCELL;
 COHORT = 100; 30 : a; 20 : b; 25 : c;
 COHORT = 120; 30 : a; 20 : b; 25 : c;
 COHORT = 60; 20 : a; 15 : b; 10 : c;
 COHORT = 100; 60 : phi;
/* Twenty replicates, the second submodel fails every fit (MAXFN=1) and
   ERROR TEST leaves those fits out of the figures. */
PROC SIMULATE NSIM=20 SEED=3 COVERAGE ERROR TEST;
 CONSTRAINT; S(3)=S(2); S(6)=S(5); S(8)=0; S(9)=1; S(10)=1;
 INITIAL; S(1)=0.4; S(2)=0.5; S(4)=0.6; S(5)=0.3; S(7)=0.7;
PROC ESTIMATE NAME=C EQUALS P;
 CONSTRAINT; S(3)=S(2); S(6)=S(5); S(8)=0; S(9)=1; S(10)=1;
PROC ESTIMATE NAME=STOPPED MAXFN=1;
 CONSTRAINT; S(3)=S(2); S(6)=S(5); S(8)=0; S(9)=1; S(10)=1;
PROC ESTIMATE NAME=CONSTANT P;
 CONSTRAINT; S(2)=S(1); S(3)=S(1); S(6)=S(5); S(8)=0; S(9)=1; S(10)=1;
PROC STOP;
