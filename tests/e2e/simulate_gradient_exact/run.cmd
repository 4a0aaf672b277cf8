PROC TITLE Refits with exact derivatives;
/* GRADIENT=EXACT on PROC SIMULATE is every submodel's but the one
   that says GRADIENT=DIFFERENCE: INHERITS and DIFFERENCE are the same
   model and print the same estimates, their mean errors differ in
   the last digits. The fit after the simulation (on the last
   replicate's data) takes differences again. */
PROC MODEL NPAR=10 ADDCELL;
 COHORT = 100; 30 : a; 20 : b; 25 : c;
 COHORT = 120; 30 : a; 20 : b; 25 : c;
 COHORT = 60; 20 : a; 15 : b; 10 : c;
 COHORT = 100; 60 : phi;
PROC SIMULATE NSIM=6 SEED=11 COVERAGE GRADIENT=EXACT;
 CONSTRAINT; S(3)=S(2); S(6)=S(5); S(8)=0; S(9)=1; S(10)=1;
 INITIAL; S(1)=0.4; S(2)=0.5; S(4)=0.6; S(5)=0.3; S(7)=0.7;
PROC ESTIMATE NAME=INHERITS;
 CONSTRAINT; S(3)=S(2); S(6)=S(5); S(8)=0; S(9)=1; S(10)=1;
PROC ESTIMATE NAME=DIFFERENCE GRADIENT=DIFFERENCE;
 CONSTRAINT; S(3)=S(2); S(6)=S(5); S(8)=0; S(9)=1; S(10)=1;
PROC ESTIMATE NAME=CONSTANT P;
 CONSTRAINT; S(2)=S(1); S(3)=S(1); S(6)=S(5); S(8)=0; S(9)=1; S(10)=1;
PROC TITLE A fit after the simulation;
PROC ESTIMATE NAME=AFTER;
 CONSTRAINT; S(3)=S(2); S(6)=S(5); S(8)=0; S(9)=1; S(10)=1;
PROC STOP;
