PROC TITLE Coverage over converged fits only;
PROC MODEL NPAR=10 ADDCELL;
 COHORT = 100; 30 : a; 20 : b; 25 : c;
 COHORT = 120; 30 : a; 20 : b; 25 : c;
 COHORT = 60; 20 : a; 15 : b; 10 : c;
 COHORT = 100; 60 : phi;
/* Without ERROR TEST the summaries keep every fit, but the coverage block
   counts and uses only the converged ones: the second submodel stops after
   one evaluation (MAXFN=1) in every replicate, so none of its fits counts. */
PROC SIMULATE NSIM=10 SEED=3 COVERAGE;
 CONSTRAINT; S(3)=S(2); S(6)=S(5); S(8)=0; S(9)=1; S(10)=1;
 INITIAL; S(1)=0.4; S(2)=0.5; S(4)=0.6; S(5)=0.3; S(7)=0.7;
PROC ESTIMATE NAME=C EQUALS P;
 CONSTRAINT; S(3)=S(2); S(6)=S(5); S(8)=0; S(9)=1; S(10)=1;
PROC ESTIMATE NAME=STOPPED MAXFN=1;
 CONSTRAINT; S(3)=S(2); S(6)=S(5); S(8)=0; S(9)=1; S(10)=1;
PROC STOP;
