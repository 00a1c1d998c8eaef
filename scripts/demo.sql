-- The demo database: a few tables, a view, a sequence, Japanese text.
CREATE TABLE shop (id serial PRIMARY KEY, name varchar(40) NOT NULL, city text DEFAULT '東京');
CREATE TABLE item (code char(6) PRIMARY KEY, shop_id int REFERENCES shop(id), title text,
                   price numeric(10,2), stock int DEFAULT 0, updated timestamp DEFAULT now());
INSERT INTO shop (name, city) VALUES ('本店', '東京'), ('大阪支店', '大阪'), ('O''Brien''s', 'Dublin');
INSERT INTO item
SELECT lpad(g::text, 6, '0'), 1 + g % 3, '商品 ' || g, (g * 37 % 1000) + 0.5, g % 17, now()
FROM generate_series(1, 2500) g;
CREATE VIEW cheap_item AS SELECT code, title, price FROM item WHERE price < 100;
CREATE SEQUENCE invoice_no START 1000;
