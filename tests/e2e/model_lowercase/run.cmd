proc model npar=10 primary n = 2 secondary = 2 2;
 labels;
  s(1) = p, period 1 occasion 1;
 cohort=100;
  10 : s(1)*s(3);
  20 : s(1)*(1-s(3));
  30 : (1-s(1))*s(2);
 cohort=5;
proc stop;
