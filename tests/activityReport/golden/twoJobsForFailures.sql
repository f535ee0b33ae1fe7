-- The jobs the failure table injects its faults into: one whose fields and two recipients (a To
-- and a Cc) are all set, then one with nothing but a subject.
INSERT INTO jobs VALUES
  (1, '2010-01-05 09:05:03', '2010-01-06 09:07:41', 1, 1, 0, 0, 1, 100, 'Subject', 'from@example.com'),
  (2, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, 'Second', NULL);
INSERT INTO addresses VALUES
  (1, 1, 0, 1, '2010-01-07 09:06:00', 'Nobody', 'nobody@example.com'),
  (1, 2, 7, 9, NULL, 'Carl', 'carl@example.com');
